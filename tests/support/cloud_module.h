// A small cloud script module for tests, as Lua source.
#pragma once

#include <string>

namespace cloudtest {

// The module: account "emma@example.com" with password "secret"; one iPhone with two backups
// (and a text value the list reader skips), and a device whose serial would leave the root.
// A download writes `files` files of 1000, 2000, ... bytes into "merge", reporting each
// once; with `endless`, it goes on until the progress function answers 1.
inline std::string moduleText(int files, bool endless) {
  return R"lua(
local LIST = [[ [
  {"udid": "c0ffee01", "product": "iPhone", "label": "not a backup",
   "b1": {"local_backup_time": 1700000000, "name": "Emma's iPhone", "snapshot_size": 15000,
          "version": "17.1", "snapshot_id": 1},
   "b2": {"local_backup_time": 1710000000, "name": "Emma's iPhone", "snapshot_size": 9000,
          "version": "17.2", "snapshot_id": 2}},
  {"udid": "../escape", "product": "iPad13,1",
   "b1": {"name": "Hostile", "snapshot_size": 10, "version": "16.0", "snapshot_id": 1}}
] ]]
function ZKiCloud_new()
  local o = {}
  function o:authroize(a, p) self.ok = (a == "emma@example.com" and p == "secret"); return self.ok end
  function o:query() if self.ok then return LIST end return nil end
  function o:geturls(serial, n) return )lua" +
         std::to_string(files) + R"lua( end
  function o:download(folder, progress)
    local i = 0
    while true do
      i = i + 1
      if i > )lua" +
         std::to_string(files) + R"lua( and not )lua" + (endless ? "true" : "false") +
         R"lua( then return end
      local name = string.format("%040d", i)
      if i <= )lua" +
         std::to_string(files) +
         R"lua( then
        local out = assert(io.open(folder .. "/merge/" .. name, "wb"))
        out:write(string.rep("x", 1000 * i))
        out:close()
      end
      if progress(name, 1000 * i, 1000 * i) == 1 then return end
    end
  end
  return o
end
)lua";
}

}  // namespace cloudtest
