// The exports that tell interface 4 from the others.
#include "interfaces/interface4.h"
#include "plugin/exports.h"

extern "C" {

SORLINX_EXPORT int ts3plugin_apiVersion() { return sorlinx::interface4::API_VERSION; }

SORLINX_EXPORT void ts3plugin_setFunctionPointers(const sorlinx::interface4::FunctionTable table) {
  sorlinx::interface4::setFunctionPointers(table);
}

}  // extern "C"
