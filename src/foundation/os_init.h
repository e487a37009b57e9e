// Process initialisation and closing of the runtime: the TLS library, SIGPIPE,
// the process counters, and the start-up work of the upper layers, which they
// register here as hooks because this layer may not call up to them.
//
// Thread-safe: orvanex_init runs its work once however many threads call it;
// hooks are registered at start-up, before orvanex_init or orvanex_close runs.
#pragma once

extern "C" {
// Runs once per process: loads the TLS library's error strings, ignores
// SIGPIPE, registers the process counters and runs the start-up hooks (the
// wire layer registers the asset record's serializer through one).
void orvanex_init();
// Runs the closing hooks (the directory client stops and joins its thread
// through one). Safe to call more than once and without orvanex_init.
void orvanex_close();
}

// Work of an upper layer that orvanex_init must run once (the asset record's
// serializer registration). Hooks run in the order they were added.
using OrvanexInitHook = void (*)();
void addOrvanexInitHook(OrvanexInitHook hook);
// Work of an upper layer that orvanex_close must run (stopping the directory
// client's thread). Runs newest first.
using OrvanexCloseHook = void (*)();
void addOrvanexCloseHook(OrvanexCloseHook hook);
