// An app role that an update has just replaced and that is slow to end: it takes the
// installation's lock as the app does, hands over to the bundle named by its argument the way the
// update banner does, and then keeps running until it is killed.
#include "app/AppRole.hpp"
#include "config/SystemdUserBackend.hpp"
#include "support/MemoryPreferences.hpp"

#include <chrono>
#include <iostream>
#include <thread>

int main(int argc, char** argv) {
    using namespace meterly;
    if (argc != 2) {
        std::cerr << "usage: meterly_old_copy <bundle>\n";
        return 2;
    }
    const auto environment = core::processEnvironment();
    app::AppRole::Context context{
        .launch =
            {
                .arguments = {argv[0]},
                .environment = environment,
                .homeDirectory = environment("HOME").value_or("/nonexistent"),
                .executablePath = argv[0],
                .bundlePath = argv[1],
                .writeError = [](std::string_view line) { std::cerr << line << std::flush; },
                .relaunchAfterUpdate = {},
            },
        .openDefaults = [] { return std::make_unique<state::MemoryPreferences>(); },
        .serviceBackend = config::SystemdUserBackend::standard(),
        .lockWait = 0,
        .scene =
            [](const app::AppLaunch& launch, state::UpdateCheckStore&) {
                launch.relaunchAfterUpdate([] {});
                std::this_thread::sleep_for(std::chrono::minutes(10));
                return 0;
            },
    };
    return app::AppRole::run(context);
}
