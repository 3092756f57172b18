// Start-up and shutdown of the services the entry point prepares before a
// command runs: the cryptographic provider environment, the locale
// library's character tables and how the allocator treats large blocks. kestrel's commands use neither; the entry
// point still brackets every command with them so the order of start-up and
// shutdown stays fixed.
#pragma once

struct ProviderError {
  int code = 0;
};

// Initialises the provider environment; the result is not checked.
int crypto_provider_initialise(ProviderError& error, const char* client_label);
// Finalises it before the process exits.
void crypto_provider_finalise();
// Prepares the character-function tables of the locale library: the C
// locale with UTF-8 characters (plain C where the system has no such
// locale), so that names pass through libarchive byte for byte whatever the
// caller's locale.
void locale_initialise_tables();
// Every stream gets a compressor or decompressor of its own, several
// megabytes that are freed again at once; keeps such blocks in the
// process's heap when freed, which spares the system mapping and clearing
// those pages anew for every file or piece.
void keep_large_blocks_for_reuse();
