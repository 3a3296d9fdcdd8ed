// Registry places and value names shared by every program.
#pragma once

namespace names {

// Under HKEY_LOCAL_MACHINE.
inline constexpr char16_t kProductKey[] = u"SOFTWARE\\Orvane\\Wardline";
inline constexpr char16_t kSettingsKey[] = u"SOFTWARE\\Orvane\\Wardline\\Settings";
inline constexpr char16_t kDataKey[] = u"SOFTWARE\\Orvane\\Wardline\\data";
inline constexpr char16_t kMountedDevicesKey[] = u"SYSTEM\\MountedDevices";
inline constexpr char16_t kServicesKey[] = u"SYSTEM\\CurrentControlSet\\Services";

// Values of the product key.
inline constexpr char16_t kValuePath[] = u"Path";
inline constexpr char16_t kValueVersion[] = u"Version";
inline constexpr char16_t kValueEMail[] = u"eMail";
inline constexpr char16_t kValueNotifire[] = u"Notifire";

// Values of the data key.
inline constexpr char16_t kValueData[] = u"data";
inline constexpr char16_t kValueSched[] = u"sched";

inline constexpr char16_t kProductVersion[] = u"1.0.1.310";

// Values of the Settings key. Flags count as on only when they equal 1.
inline constexpr char16_t kCloseBrowsers[] = u"CloseBrowsers";
inline constexpr char16_t kSendStatistics[] = u"SendStatistics";
inline constexpr char16_t kCheckUpdates[] = u"CheckUpdates";
inline constexpr char16_t kIgnoreLarageFiles[] = u"IgnoreLarageFiles";
inline constexpr char16_t kSmartExt[] = u"SmartExt";
inline constexpr char16_t kScanArchives[] = u"ScanArchives";
inline constexpr char16_t kScanStartup[] = u"ScanStartup";
inline constexpr char16_t kScanSrvDrv[] = u"ScanSrvDrv";
inline constexpr char16_t kScanPageFile[] = u"ScanPageFile";
inline constexpr char16_t kScanMBR[] = u"ScanMBR";
inline constexpr char16_t kScanSysRestore[] = u"ScanSysRestore";
inline constexpr char16_t kCatchExt[] = u"CatchExt";
inline constexpr char16_t kDeep[] = u"Deep";
inline constexpr char16_t kHidden[] = u"Hidden";
inline constexpr char16_t kScanFav[] = u"ScanFav";
inline constexpr char16_t kMonitoring[] = u"Monitoring";
inline constexpr char16_t kStartup[] = u"Startup";
inline constexpr char16_t kDebug[] = u"Debug";
inline constexpr char16_t kServiceState[] = u"ServiceState";
inline constexpr char16_t kFeedBack[] = u"FeedBack";

// The seventeen flags the settings dialog edits, in the order it saves them.
inline constexpr const char16_t* kDialogFlags[] = {
    kCloseBrowsers, kSendStatistics, kCheckUpdates, kIgnoreLarageFiles, kSmartExt, kScanArchives,
    kScanStartup,   kScanSrvDrv,     kScanPageFile, kScanMBR,           kScanSysRestore,
    kCatchExt,      kDeep,           kHidden,       kScanFav,           kMonitoring,
    kStartup,
};

// FeedBack is stored with value type 16, not REG_DWORD.
inline constexpr unsigned kFeedBackValueType = 16;

// The "data" record: REG_BINARY of exactly this many bytes, UTF-16LE text
// zero-padded; a fresh installation holds "0|0||".
inline constexpr unsigned kDataRecordBytes = 2048;
inline constexpr char16_t kDataRecordInitial[] = u"0|0||";

}  // namespace names
