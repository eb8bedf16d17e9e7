#pragma once
// Where the endpoint's configuration comes from: the file named by the environment
// variable, else the file named in the registry, else the built-in default.

#include "testdrivers/endpoint/EndpointConfig.h"

#include <string>

namespace PomaroTestEndpoint {

// False with a message when a named file cannot be read or parsed.
bool loadEndpointConfig(EndpointConfig& out, std::string& error);

} // namespace PomaroTestEndpoint
