// NEXTIFACE: an ordinary instrument whose file is marked as built for the
// plug-in interface after this engine's (mark.cpp). The engine must refuse
// the file before it runs any entry: were rtprofile called, the name
// NEXTIFACE would be registered.
//
// Built again as NEXTNAMES with NEXTIFACE_NEW_CALL, it also calls a name
// that this engine does not have, as a plug-in for a later interface may:
// the file then cannot be opened at all, and the engine must still say why.
#include "Instrument.h"

#ifdef NEXTIFACE_NEW_CALL
int rtnextcall(Instrument* inst);
#endif

class NEXTIFACE : public Instrument {
 public:
  int init(double* p, int) override {
    if (rtsetoutput(float(p[0]), float(p[1]), this) == -1) return -1;
    return noteFrames;
  }
  int run() override {
#ifdef NEXTIFACE_NEW_CALL
    rtnextcall(this);
#endif
    frameCursor += chunkFrames;
    return chunkFrames;
  }
};

VEMORA_EXPORT Instrument* makeNEXTIFACE() {
  Instrument* inst = new NEXTIFACE();
  inst->set_bus_config("NEXTIFACE");
  return inst;
}

extern "C" VEMORA_EXPORT void rtprofile() {
  static rt_item this_rt = {nullptr, makeNEXTIFACE, "NEXTIFACE"};
  if (addrtInst(&this_rt) == -1) merror("NEXTIFACE");
}
