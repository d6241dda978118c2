#include "PortAudioLibrary.h"

#include <dlfcn.h>

#include <string>

#include "AudioDevice.h"

namespace vemora {
namespace {

// The name the library is installed under: PortAudio v19 keeps this ABI.
constexpr const char* kLibraryName = "libportaudio.so.2";

template <class Call>
void bind(void* library, Call& call, const char* name) {
  call = reinterpret_cast<Call>(::dlsym(library, name));
  if (!call)
    throw DeviceError(std::string("the audio library ") + kLibraryName + " has no " + name +
                      "; install PortAudio v19 (Debian: libportaudio2)");
}

PortAudioLibrary open() {
  // Never closed: its threads and the ALSA and JACK libraries it loaded
  // may outlive any one stream.
  void* library = ::dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    const char* why = ::dlerror();
    throw DeviceError(std::string("the audio library could not be loaded: ") + (why ? why : kLibraryName) +
                      " (Debian: apt-get install libportaudio2)");
  }
  PortAudioLibrary pa{};
  bind(library, pa.Initialize, "Pa_Initialize");
  bind(library, pa.Terminate, "Pa_Terminate");
  bind(library, pa.GetVersionText, "Pa_GetVersionText");
  bind(library, pa.GetErrorText, "Pa_GetErrorText");
  bind(library, pa.GetDeviceCount, "Pa_GetDeviceCount");
  bind(library, pa.GetDeviceInfo, "Pa_GetDeviceInfo");
  bind(library, pa.GetHostApiInfo, "Pa_GetHostApiInfo");
  bind(library, pa.GetDefaultOutputDevice, "Pa_GetDefaultOutputDevice");
  bind(library, pa.GetDefaultInputDevice, "Pa_GetDefaultInputDevice");
  bind(library, pa.IsFormatSupported, "Pa_IsFormatSupported");
  bind(library, pa.OpenStream, "Pa_OpenStream");
  bind(library, pa.CloseStream, "Pa_CloseStream");
  bind(library, pa.StartStream, "Pa_StartStream");
  bind(library, pa.StopStream, "Pa_StopStream");
  bind(library, pa.AbortStream, "Pa_AbortStream");
  bind(library, pa.GetStreamInfo, "Pa_GetStreamInfo");
  bind(library, pa.GetStreamCpuLoad, "Pa_GetStreamCpuLoad");
  bind(library, pa.AlsaEnableRealtimeScheduling, "PaAlsa_EnableRealtimeScheduling");
  return pa;
}

}  // namespace

const PortAudioLibrary& portAudio() {
  // A failed open throws out of the initialiser, so the next call tries again.
  static const PortAudioLibrary library = open();
  return library;
}

}  // namespace vemora
