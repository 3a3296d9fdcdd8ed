#include "platform/error.h"

#include <cerrno>

namespace platform {

namespace {
thread_local uint32_t t_lastError = 0;
}

uint32_t lastError() { return t_lastError; }

void setLastError(uint32_t code) { t_lastError = code; }

uint32_t errorFromErrno(int err) {
    switch (err) {
        case 0: return kErrorSuccess;
        case ENOENT: return kErrorFileNotFound;
        case ENOTDIR: return kErrorPathNotFound;
        case EACCES:
        case EPERM:
        case EISDIR:
        case EROFS: return kErrorAccessDenied;
        case EEXIST: return kErrorFileExists;
        case EBADF: return kErrorInvalidHandle;
        case ENOMEM: return kErrorNotEnoughMemory;
        case EMFILE:
        case ENFILE: return kErrorTooManyOpenFiles;
        case EINVAL: return kErrorInvalidParameter;
        case ENOSPC:
        case EDQUOT: return kErrorDiskFull;
        case ENAMETOOLONG: return kErrorFilenameExcedRange;
        case ENOTEMPTY: return kErrorDirNotEmpty;
        case EBUSY:
        case ETXTBSY: return kErrorBusy;
        case EAGAIN: return kErrorBusy;
        case ELOOP: return kErrorCantResolveFilename;
        case ETIMEDOUT: return kErrorTimeout;
        case ENOTSUP: return kErrorNotSupported;
        case ENXIO:
        case ENODEV: return kErrorNotReady;
        case EFBIG: return kErrorDiskFull;
        case ESRCH: return kErrorInvalidParameter;
        case EXDEV: return kErrorNotSameDevice;
        default: return kErrorInvalidFunction;
    }
}

uint32_t setLastErrorFromErrno(int err) {
    uint32_t code = errorFromErrno(err);
    setLastError(code);
    return code;
}

}  // namespace platform
