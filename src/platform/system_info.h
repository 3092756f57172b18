// What the version stamp writer records about the machine it runs on.
//
// Each query fills a caller's 256-byte buffer with a terminated text, cut
// short when it does not fit, and leaves it empty when the system cannot
// tell.
#pragma once

#include <cstddef>

constexpr size_t kSystemInfoSize = 256;
using SystemInfoText = char[kSystemInfoSize];

// The machine's host name (gethostname). False, and empty, on failure.
bool GetMachineHostName(SystemInfoText& buffer);

// The operating system's name, release and version as uname reports them,
// separated by single blanks ("Linux 6.1.0-18-amd64 #1 SMP ...").
bool GetOSVersionString(SystemInfoText& buffer);

// The processor's architecture, asked of the processor itself through its
// identification instruction (cpuid) where it has one: "X86_64" when the
// processor supports 64-bit long mode, else "X86"; "IA64" on Itanium. On a
// processor without that instruction: the machine name that uname reports,
// in capitals.
void GetNativeProcessorArchitecture(SystemInfoText& buffer);

// The instruction set the running kernel was built for, in the traditional
// names: "amd64" for a 64-bit x86 kernel, "i386" for a 32-bit one, and the
// machine name uname reports for any other. A 32-bit program on a 64-bit
// kernel therefore sees "amd64".
bool GetOSProcessorArchitecture(SystemInfoText& buffer);
