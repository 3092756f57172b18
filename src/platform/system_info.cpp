#include "platform/system_info.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace {

void set_text(SystemInfoText& buffer, const char* text) { std::snprintf(buffer, kSystemInfoSize, "%s", text); }

bool machine_name(SystemInfoText& buffer) {
  struct utsname names;
  if (::uname(&names) != 0) {
    buffer[0] = '\0';
    return false;
  }
  set_text(buffer, names.machine);
  return true;
}

}  // namespace

bool GetMachineHostName(SystemInfoText& buffer) {
  if (::gethostname(buffer, kSystemInfoSize) != 0) {
    buffer[0] = '\0';
    return false;
  }
  // gethostname need not terminate a name that was cut short.
  buffer[kSystemInfoSize - 1] = '\0';
  return true;
}

bool GetOSVersionString(SystemInfoText& buffer) {
  struct utsname names;
  if (::uname(&names) != 0) {
    buffer[0] = '\0';
    return false;
  }
  std::snprintf(buffer, kSystemInfoSize, "%s %s %s", names.sysname, names.release, names.version);
  return true;
}

void GetNativeProcessorArchitecture(SystemInfoText& buffer) {
#if defined(__x86_64__) || defined(__i386__)
  // Extended leaf 0x80000001, EDX bit 29: long mode. A 32-bit build running
  // on a 64-bit processor still reports X86_64, since the processor is asked.
  constexpr unsigned kLongModeBit = 1u << 29;
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  const bool has_leaf = __get_cpuid(0x80000000u, &eax, &ebx, &ecx, &edx) != 0 && eax >= 0x80000001u;
  if (has_leaf && __get_cpuid(0x80000001u, &eax, &ebx, &ecx, &edx) != 0 && (edx & kLongModeBit) != 0)
    set_text(buffer, "X86_64");
  else
    set_text(buffer, "X86");
#elif defined(__ia64__)
  set_text(buffer, "IA64");
#else
  machine_name(buffer);
  for (char* c = buffer; *c != '\0'; ++c) *c = static_cast<char>(std::toupper(static_cast<unsigned char>(*c)));
#endif
}

bool GetOSProcessorArchitecture(SystemInfoText& buffer) {
  if (!machine_name(buffer)) return false;
  if (std::strcmp(buffer, "x86_64") == 0) {
    set_text(buffer, "amd64");
  } else if (std::strlen(buffer) == 4 && buffer[0] == 'i' && buffer[1] >= '3' && buffer[1] <= '6' &&
             std::strcmp(buffer + 2, "86") == 0) {
    set_text(buffer, "i386");
  }
  return true;
}
