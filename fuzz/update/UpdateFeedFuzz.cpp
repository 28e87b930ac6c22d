// Feeds arbitrary bytes to the version feed's decoder. It either throws UpdateCheckError or gives
// a record whose required fields are present, and the rollout gate answers for any record.
#include "FuzzCheck.hpp"
#include "update/RolloutGate.hpp"
#include "update/UpdateCheckError.hpp"
#include "update/UpdateInfo.hpp"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace meterly::update;
    std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        const auto info = UpdateInfo::decode(text);
        meterly::fuzzing::check(!info.downloadURL.empty());
        (void)info.rolloutStart();
        (void)RolloutGate::isOpen(info, 0.5, 1'800'000'000);
        meterly::fuzzing::check(UpdateInfo::decode(text) == info);
    } catch (const UpdateCheckError&) {
    }
    return 0;
}
