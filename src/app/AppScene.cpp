#include "app/AppScene.hpp"

namespace meterly::app {

int AppScene::run(const AppLaunch& launch, state::UpdateCheckStore&) {
    launch.writeError("Meterly: the tray application is not part of this build yet; "
                      "run with --proxy for the proxy role.\n");
    return 2;
}

} // namespace meterly::app
