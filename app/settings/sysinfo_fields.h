// The System Information dialog's figures (dialog 159) without Qt: each
// loader writes "In <name>" to the log and fills its fields, by control id,
// with the dialog's format strings.
#pragma once
#include <cstdint>
#include <map>
#include <string>

using DialogFields = std::map<int32_t, std::u16string>;

inline constexpr char16_t kMemoryErrorFormat[] = u"Obtaining current memory return error: %d";
inline constexpr char16_t kMemoryErrorCaption[] = u"ERROR";

// "INTEL", "AMD", "IS64", "<unknown>" or empty, for an architecture code.
std::u16string ArchitectureText(uint16_t code);

// User 1070, computer 1002, architecture 1071 and the processor lines 1069,
// 1075 to 1079. 1.
int32_t LoadSystemInfoData(DialogFields& fields);

// The eight memory lines 1064, 1050, 1065, 1052, 1063, 1066, 1067, 1068. 1;
// 0 with the error code in *error when the figures cannot be had (the
// fields stay empty; the caller shows the memory error box).
int32_t LoadMemData(DialogFields& fields, uint32_t* error);

// Major 1072, minor 1009, build 1008 and service pack 1010. 1 in every case.
int32_t LoadOSInfoData(DialogFields& fields);

// "CPU Speed: ..." in 1080 from the first processor's clock. 1; 0 when the
// machine gives no figures (1080 stays empty).
int32_t LoadExtraData(DialogFields& fields);
