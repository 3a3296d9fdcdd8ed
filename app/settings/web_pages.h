// The maker's web pages behind the menu commands, buttons and pictures.
#pragma once
#include <cstdint>

// Opens the page configured for the id (online_config.h) in the browser.
// 1 when the opener was started; 0 for an id without a page (nothing is
// started then: there is no browser to start without an address) or when
// it could not be started.
int32_t DoOpenExtraOVUrl(int32_t id);
