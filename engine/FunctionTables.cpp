#include "FunctionTables.h"

#include "EngineState.h"

using vemora::gContext;

namespace {

vemora::TablePtr lookUp(int slot) {
  if (!gContext.engine) return nullptr;
  vemora::TablePtr table = gContext.engine->tables.get(slot);
  if (table && gContext.note) gContext.note->heldTables.push_back(table);
  if (table && gContext.legacy) gContext.legacy->heldTables.push_back(table);
  return table;
}

}  // namespace

double* floc(int slot) {
  vemora::TablePtr table = lookUp(slot);
  // Tables are never written through this pointer by the engine; plug-ins
  // take double* by long-standing convention.
  return table ? const_cast<double*>(table->values.data()) : nullptr;
}

int fsize(int slot) {
  if (!gContext.engine) return 0;
  vemora::TablePtr table = gContext.engine->tables.get(slot);
  return table ? int(table->values.size()) : 0;
}
