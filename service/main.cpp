// ovrtsrv: the real-time protection service "Orvane Service". With the
// argument "install" it registers itself with the service manager.
#include "service/service_host.h"

int main(int argc, char** argv) { return ovsvc::ServiceProgramMain(argc, argv); }
