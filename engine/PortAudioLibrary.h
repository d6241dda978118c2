// PortAudio, opened the first time a device is wanted rather than linked to
// the engine. The library and the ALSA, JACK and Berkeley DB libraries it
// brings in cost every run about 4 ms of loading and relocating, while only
// --play, --list-devices and live input use them.
#pragma once

#include <pa_linux_alsa.h>
#include <portaudio.h>

namespace vemora {

// The calls the engine makes, named as in the library without its prefix.
struct PortAudioLibrary {
  decltype(&Pa_Initialize) Initialize;
  decltype(&Pa_Terminate) Terminate;
  decltype(&Pa_GetVersionText) GetVersionText;
  decltype(&Pa_GetErrorText) GetErrorText;
  decltype(&Pa_GetDeviceCount) GetDeviceCount;
  decltype(&Pa_GetDeviceInfo) GetDeviceInfo;
  decltype(&Pa_GetHostApiInfo) GetHostApiInfo;
  decltype(&Pa_GetDefaultOutputDevice) GetDefaultOutputDevice;
  decltype(&Pa_GetDefaultInputDevice) GetDefaultInputDevice;
  decltype(&Pa_IsFormatSupported) IsFormatSupported;
  decltype(&Pa_OpenStream) OpenStream;
  decltype(&Pa_CloseStream) CloseStream;
  decltype(&Pa_StartStream) StartStream;
  decltype(&Pa_StopStream) StopStream;
  decltype(&Pa_AbortStream) AbortStream;
  decltype(&Pa_GetStreamInfo) GetStreamInfo;
  decltype(&Pa_GetStreamCpuLoad) GetStreamCpuLoad;
  decltype(&PaAlsa_EnableRealtimeScheduling) AlsaEnableRealtimeScheduling;
};

// The library, opened on the first call and kept open for the process.
// Throws DeviceError when it cannot be opened or lacks one of the calls.
const PortAudioLibrary& portAudio();

}  // namespace vemora
