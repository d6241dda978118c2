// The plug-in interface version. Every plug-in that includes an SDK header
// carries it as the exported number vemora_plugin_interface; the engine reads
// it when it loads the plug-in and refuses one built for another version,
// whose objects and calls may not match its own.
//
// Raise the version whenever an existing plug-in would no longer work with
// the engine unchanged: the Instrument layout or its virtual slots, the
// signature or meaning of a call plug-ins make, the registration record.
// Adding a new call does not need it.
#pragma once

#define VEMORA_PLUGIN_INTERFACE 1

// Weak, so that every source file of a plug-in may hold it and the linker
// keeps one; a plug-in that defines the number itself overrides it.
extern "C" __attribute__((weak, visibility("default"))) const int vemora_plugin_interface = VEMORA_PLUGIN_INTERFACE;

// What the plug-in is, for `vemora --list-plugins`: its kind ("instrument",
// "legacy note" or "score functions") and a one-line summary. Write it once,
// in one source file of the plug-in:
//   VEMORA_PLUGIN_ABOUT("instrument", "A tremolo: the input's level rises and falls");
// A plug-in without it is listed by what it registers, with no summary.
#define VEMORA_PLUGIN_ABOUT(kind, summary)                                                       \
  extern "C" __attribute__((visibility("default"))) const char* const vemora_plugin_kind = kind; \
  extern "C" __attribute__((visibility("default"))) const char* const vemora_plugin_summary = summary
