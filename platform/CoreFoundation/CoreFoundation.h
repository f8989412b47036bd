#pragma once

// The subset of CoreFoundation's bundle information that Salvix Setup uses.
// The main bundle is the one the running executable lies in: its information
// dictionary is "<executable folder>/../Info.plist", read as an XML property list
// (empty when there is none, like the dictionary of a plain macOS executable).

#include <cstdint>

using Boolean = unsigned char;
using CFIndex = long;
using CFTypeID = unsigned long;
using CFStringEncoding = uint32_t;
using CFTypeRef = const void*;

typedef const struct StandInCFString* CFStringRef;
typedef struct StandInCFBundle* CFBundleRef;

enum : CFStringEncoding { kCFStringEncodingUTF8 = 0x08000100 };

// A constant string that lives as long as the process, as CFSTR gives on macOS.
CFStringRef CFStringMakeConstant(const char* text);
#define CFSTR(text) CFStringMakeConstant(text)

CFBundleRef CFBundleGetMainBundle(void);
// The value is owned by the bundle ("get" rule); null when the key is absent.
CFTypeRef CFBundleGetValueForInfoDictionaryKey(CFBundleRef bundle, CFStringRef key);

CFTypeID CFGetTypeID(CFTypeRef value);
CFTypeID CFStringGetTypeID(void);
// Copies the string with its terminating NUL; false when it does not fit or the
// encoding is not UTF-8.
Boolean CFStringGetCString(CFStringRef string, char* buffer, CFIndex bufferSize, CFStringEncoding encoding);
