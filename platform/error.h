// Windows error codes: the one error vocabulary of every program.
// errno becomes one of these in exactly one place (errorFromErrno).
#pragma once
#include <cstdint>

namespace platform {

inline constexpr uint32_t kErrorSuccess = 0;
inline constexpr uint32_t kErrorInvalidFunction = 1;
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorPathNotFound = 3;
inline constexpr uint32_t kErrorTooManyOpenFiles = 4;
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorInvalidHandle = 6;
inline constexpr uint32_t kErrorNotEnoughMemory = 8;
inline constexpr uint32_t kErrorInvalidData = 13;
inline constexpr uint32_t kErrorNotSameDevice = 17;
inline constexpr uint32_t kErrorNoMoreFiles = 18;
inline constexpr uint32_t kErrorWriteProtect = 19;
inline constexpr uint32_t kErrorNotReady = 21;
inline constexpr uint32_t kErrorSharingViolation = 32;
inline constexpr uint32_t kErrorHandleEof = 38;
inline constexpr uint32_t kErrorNotSupported = 50;
inline constexpr uint32_t kErrorFileExists = 80;
inline constexpr uint32_t kErrorInvalidParameter = 87;
inline constexpr uint32_t kErrorNegativeSeek = 131;
inline constexpr uint32_t kErrorDiskFull = 112;
inline constexpr uint32_t kErrorInsufficientBuffer = 122;
inline constexpr uint32_t kErrorInvalidName = 123;
inline constexpr uint32_t kErrorDirNotEmpty = 145;
inline constexpr uint32_t kErrorBusy = 170;
inline constexpr uint32_t kErrorAlreadyExists = 183;
inline constexpr uint32_t kErrorFilenameExcedRange = 206;
inline constexpr uint32_t kErrorMoreData = 234;
inline constexpr uint32_t kErrorDirectory = 267;  // the path is not a folder
inline constexpr uint32_t kErrorWaitTimeout = 258;
inline constexpr uint32_t kErrorNoMoreItems = 259;
inline constexpr uint32_t kErrorStillActive = 259;  // exit code of a thread or process still running
inline constexpr uint32_t kErrorCantResolveFilename = 1921;
inline constexpr uint32_t kErrorServiceRequestTimeout = 1053;
inline constexpr uint32_t kErrorServiceAlreadyRunning = 1056;
inline constexpr uint32_t kErrorServiceDisabled = 1058;
inline constexpr uint32_t kErrorServiceDoesNotExist = 1060;
inline constexpr uint32_t kErrorServiceCannotAcceptCtrl = 1061;
inline constexpr uint32_t kErrorServiceNotActive = 1062;
inline constexpr uint32_t kErrorFailedServiceControllerConnect = 1063;
inline constexpr uint32_t kErrorServiceExists = 1073;
inline constexpr uint32_t kErrorServiceMarkedForDelete = 1072;
inline constexpr uint32_t kErrorServiceNeverStarted = 1077;
inline constexpr uint32_t kErrorNotAllAssigned = 1300;
inline constexpr uint32_t kErrorNoSuchPrivilege = 1313;
inline constexpr uint32_t kErrorPrivilegeNotHeld = 1314;
inline constexpr uint32_t kErrorInvalidWindowHandle = 1400;
inline constexpr uint32_t kErrorTimeout = 1460;
inline constexpr uint32_t kErrorBadFormat = 11;
inline constexpr uint32_t kErrorBadExeFormat = 193;
inline constexpr uint32_t kErrorRegistryCorrupt = 1015;
inline constexpr uint32_t kErrorRegistryIoFailed = 1016;
inline constexpr uint32_t kErrorKeyDeleted = 1018;
inline constexpr uint32_t kErrorCantAccessFile = 1920;

// The calling thread's last error, as GetLastError/SetLastError keep it.
uint32_t lastError();
void setLastError(uint32_t code);

// The one mapping from errno to a Windows error code.
uint32_t errorFromErrno(int err);

// Sets the last error from errno and returns the mapped code.
uint32_t setLastErrorFromErrno(int err);

}  // namespace platform
