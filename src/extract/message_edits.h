// What the message_summary_info of a current message database says of edits and unsends.
//
// Since iOS 16 a message can be edited or unsent for a while after it was sent. The device
// then keeps a binary property list in message_summary_info: "ec" maps each edited part
// ("0", "1", …) to its versions, oldest first, each a dictionary whose "t" holds that
// version's attributed body; "rp" lists the parts that were unsent (retracted).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct MessageEdits {
  std::vector<std::string> versions;  // the texts of the first edited part, oldest first
  bool retracted = false;             // some part was unsent
};

// The edits in `blob`; nothing for an empty, damaged or foreign blob. Versions whose body
// cannot be read are left out rather than guessed.
MessageEdits messageEdits(const std::uint8_t* blob, std::size_t size);
