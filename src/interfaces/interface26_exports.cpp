// The exports that tell interfaces 19 to 26 from interface 4.
#include "interfaces/client_version.h"
#include "interfaces/interface26.h"
#include "plugin/exports.h"

extern "C" {

// The client asks this first and refuses any other number than its own.
SORLINX_EXPORT int ts3plugin_apiVersion() { return sorlinx::clientInterface(); }

// The client hands over its table by value, 209 to 230 slots as its interface has them.
// Declared with the slots every one of them starts with, the function can touch nothing past
// the end of the shortest. On 32-bit Windows and on Linux the client copies its table onto
// the stack for the call and takes it off afterwards; on 64-bit Windows the function
// receives the address of a copy the client made.
SORLINX_EXPORT void ts3plugin_setFunctionPointers(const sorlinx::interface26::SharedTable table) {
  sorlinx::interface26::setFunctionPointers(sorlinx::clientInterface(), table);
}

SORLINX_EXPORT void ts3plugin_registerPluginID(const char* id) {
  sorlinx::interface26::registerPluginID(id);
}

}  // extern "C"
