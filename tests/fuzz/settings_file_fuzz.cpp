// Any bytes as a settings file: the reader takes them without harm, and a save into them
// followed by a reload gives back exactly what was saved.
#include <cstdlib>
#include <string>

#include "core/ini_file.h"
#include "core/rd_wr_ini.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string original(reinterpret_cast<const char*>(data), size);
  TConnectSettings loaded;
  LoadSettingsFromBytes(original, loaded);

  // Every group changed, so every key is written.
  TConnectSettings changed = loaded;
  changed.port = static_cast<uint8_t>(loaded.port + 1);
  changed.echo = static_cast<uint8_t>(loaded.echo + 1);
  changed.line_num = static_cast<uint8_t>(loaded.line_num + 1);
  changed.adr_T = static_cast<uint8_t>(loaded.adr_T + 1);
  changed.interval = static_cast<uint16_t>(loaded.interval + 1);
  changed.rate = loaded.rate == INT32_MIN ? 0 : -loaded.rate;

  std::string updated = original;
  if (!UpdateSettingsBytes(updated, changed, loaded))
    std::abort();
  TConnectSettings reloaded;
  LoadSettingsFromBytes(updated, reloaded);
  if (!(reloaded == changed))
    std::abort();
  // Saving what is already there changes nothing more.
  std::string again = updated;
  if (!UpdateSettingsBytes(again, changed, loaded) || again != updated)
    std::abort();
  return 0;
}
