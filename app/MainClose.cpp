#include "app/MainClose.h"

#include "app/MainLogic.h"
#include "connection/ConnectWorkflow.h"

namespace nebrin {

void UpdateDescriptorFetched(MainLogic& logic, std::int64_t nowMs) { logic.UpdateCheckFinished(true, nowMs); }

void CloseForUpdate(MainLogic& logic, const std::function<void()>& closeMainWindow) {
    logic.SetClosingForUpdate(true);
    if (closeMainWindow) closeMainWindow();
}

bool FormCloseSteps(MainLogic& logic, ConnectWorkflow* workflow, std::int64_t nowMs,
                    const std::function<bool()>& askOk) {
    if (logic.OnCloseRequest() == CloseDecision::Ask && !(askOk && askOk())) return false;
    if (logic.HangUpOnClose() && workflow) workflow->HangUpStep();
    logic.StatusTicker().SetEnabled(false, nowMs);
    return true;
}

}  // namespace nebrin
