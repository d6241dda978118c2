// DECLPROBE: an instrument written from the plug-in interface as it is
// documented, without the engine's headers: the class and the calls are
// declared here, and the engine's names are bound when the file is loaded.
// It therefore carries no interface mark, as such a plug-in would not.
//
// p0 start (s)  p1 duration (s)  p2 a table pfield
// Every frame holds, on every output channel, the table's entry at the
// note's frame (the last entry past its end) times 1 + channel; a note
// without a table is refused.
#include <cstddef>

class PFieldSet;

class Instrument {
 public:
  Instrument();
  virtual ~Instrument();
  virtual int setup(PFieldSet*);
  virtual int init(double* p, int nargs) = 0;
  virtual int update(double* p, int n, unsigned fieldMask);
  virtual int configure();
  virtual int run() = 0;

  int rtaddout(float* frame);
  int set_bus_config(const char* name);
  double* getPFieldTable(int i, int* len);

  int frameCursor;
  int chunkFrames;
  int inChanCount;
  int outChanCount;
  int ctrlSkip;
  int noteFrames;
  float* outBuffer;

  static float SR;
  static int RTBUFSAMPS;

 private:
  // The documented members are the ones plug-ins use; the engine keeps
  // more of its own after them. Room for them, generously: the sanitizer
  // build reports it should the engine's part ever outgrow it.
  unsigned char engineOwn[64];
};

struct rt_item {
  rt_item* rt_next;
  Instrument* (*rt_ptr)();
  const char* rt_name;
};

int rtsetoutput(float start, float dur, Instrument* inst);
int addrtInst(rt_item* item);
int die(const char* name, const char* format, ...);
void merror(const char* name);

#define EXPORTED __attribute__((visibility("default")))

class DECLPROBE : public Instrument {
 public:
  int init(double* p, int) override {
    if (rtsetoutput(float(p[0]), float(p[1]), this) == -1) return -1;
    values = getPFieldTable(2, &length);
    if (!values || length < 1) return die("DECLPROBE", "p2 must be a table.");
    return noteFrames;
  }

  int run() override {
    float frame[8] = {};
    const int channels = outChanCount < 8 ? outChanCount : 8;
    for (int i = 0; i < chunkFrames; ++i) {
      const int entry = frameCursor < length ? frameCursor : length - 1;
      for (int c = 0; c < channels; ++c) frame[c] = float(values[entry]) * float(1 + c);
      rtaddout(frame);
      ++frameCursor;
    }
    return chunkFrames;
  }

 private:
  double* values = nullptr;
  int length = 0;
};

EXPORTED Instrument* makeDECLPROBE() {
  Instrument* inst = new DECLPROBE();
  inst->set_bus_config("DECLPROBE");
  return inst;
}

extern "C" EXPORTED void rtprofile() {
  static rt_item this_rt = {nullptr, makeDECLPROBE, "DECLPROBE"};
  if (addrtInst(&this_rt) == -1) merror("DECLPROBE");
}
