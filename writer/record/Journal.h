#pragma once

namespace morven {

struct WriteRecord;

// The record of a write in the systemd journal, where one runs, for a station's log collection:
// structured fields (MORVEN_PORT, MORVEN_DEVICE, MORVEN_ADAPTER_SERIAL, MORVEN_IMAGE_SHA256,
// MORVEN_SERIAL_VALUE, MORVEN_OUTCOME, MORVEN_STATUS, …), the fixed MESSAGE_ID of a write's end
// and a MESSAGE a person reads on its own. No journal: nothing happens, at once.
void SendToJournal(const WriteRecord& record);

// The MESSAGE_ID of every write's end: journalctl MESSAGE_ID=… lists them.
inline constexpr const char* WriteEndedMessageId = "4f2a9c7e1d6b4a83b5e07c91d2f4a6b8";

}  // namespace morven
