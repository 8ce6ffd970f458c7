// The main window's close and the update's requests to it, kept apart from
// the window so they run and are tested without a display.
//
// The update check hands over two requests: a descriptor arrived (the hourly
// checks end for the rest of the run) and close for the update (the setup
// program runs: the program ends without asking, also while connected, and
// hangs the connection up like any close).
#pragma once

#include <cstdint>
#include <functional>

namespace nebrin {

class ConnectWorkflow;
class MainLogic;

// AutoUpdateTicker goes off for the rest of the run.
void UpdateDescriptorFetched(MainLogic& logic, std::int64_t nowMs);

// Sets the closing-for-update flag, then closes the main window.
void CloseForUpdate(MainLogic& logic, const std::function<void()>& closeMainWindow);

// FormClose from its question to the hang-up. Asks (askOk: true for OK) only
// while busy and not closing for an update; Cancel refuses the close and
// changes nothing. Going ahead, a held dial or connection is hung up through
// the workflow's hang-up step (offline look, at most 3000 ms), and tICKER
// stops. True when the close goes ahead.
[[nodiscard]] bool FormCloseSteps(MainLogic& logic, ConnectWorkflow* workflow, std::int64_t nowMs,
                                  const std::function<bool()>& askOk);

}  // namespace nebrin
