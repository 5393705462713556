// The exports that tell interface 26 from the others.
#include "interfaces/interface26.h"
#include "plugin/exports.h"

extern "C" {

SORLINX_EXPORT int ts3plugin_apiVersion() { return sorlinx::interface26::API_VERSION; }

SORLINX_EXPORT void ts3plugin_setFunctionPointers(const sorlinx::interface26::FunctionTable table) {
  sorlinx::interface26::setFunctionPointers(table);
}

SORLINX_EXPORT void ts3plugin_registerPluginID(const char* id) {
  sorlinx::interface26::registerPluginID(id);
}

}  // extern "C"
