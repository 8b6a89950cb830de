// The five registry operations of the removal steps. Each opens its key with
// KEY_ALL_ACCESS, does one thing and closes the key; none creates a key, so a
// missing key means there is nothing to do.
#pragma once

#include "text.h"

// Key paths and child names live in buffers of this size.
constexpr DWORD KEY_PATH_SIZE = MAX_PATH;

// Reads a value into a VALUE_BUFFER_SIZE-byte buffer; the byte count, or 0
// for a missing key or value, a larger value, or an empty one.
DWORD ReadRegistryValue(HKEY root, const char* path, const char* name, BYTE* buffer);

// Reads a list value through the W function into a LIST_BUFFER_SIZE-byte
// buffer, so that every entry comes back as Windows stored it; the byte
// count, or 0 as ReadRegistryValue gives it, and 0 for a value that is not
// a REG_MULTI_SZ or has an odd count: no UTF-16 list, left as it is.
DWORD ReadRegistryList(HKEY root, const char* path, const WCHAR* name, WCHAR* buffer);

// Reads a string value into a VALUE_BUFFER_SIZE-byte buffer and makes sure a
// NUL ends it there; the text's length, or 0 for a value that is missing or
// empty, or that fills the whole buffer with no NUL in it.
DWORD ReadRegistryText(HKEY root, const char* path, const char* name, char* buffer);

// Stores `size` bytes of the UTF-16 list `data` as a REG_MULTI_SZ value.
void WriteMultiStringValue(HKEY root, const char* path, const WCHAR* name, const WCHAR* data,
                           DWORD size);

// Stores a REG_DWORD value; a Win32 error code.
LONG WriteDwordValue(HKEY root, const char* path, const char* name, DWORD value);

void DeleteRegistryValue(HKEY root, const char* path, const char* name);

// Deletes a key and everything below it, deepest keys first; the error code of
// the key's own deletion, or of its failed open. A child that cannot be
// deleted is passed over and the others still go; the key then stays.
LONG DeleteKeyTree(HKEY root, const char* path);
