#pragma once
// What the endpoint's COM objects share.

#include "testdrivers/common/ComServer.h"

namespace PomaroTestEndpoint {

using PomaroTestDrivers::RefCounted;

// A task-allocator copy of a wide string, as COM callers free it.
wchar_t* coTaskStrDup(const wchar_t* s);

// The "not found" answer of the device enumerator.
constexpr HRESULT kNotFound = HRESULT(0x80070490); // HRESULT_FROM_WIN32(ERROR_NOT_FOUND)

} // namespace PomaroTestEndpoint
