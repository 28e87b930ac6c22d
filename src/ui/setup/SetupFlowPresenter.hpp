#pragma once

#include "state/SetupModel.hpp"
#include "ui/theme/ColourRole.hpp"

#include <string>
#include <vector>

namespace meterly::ui {

// What the setup flow shows for one state of the setup model: a busy row, or a screen of texts
// and a row of buttons. The setup window passes a dismiss action; the proxy pane does not.
struct SetupFlowContent {
    enum class Screen { busy, notConfigured, configured, conflict, failed };
    // The key a button answers to.
    enum class Shortcut { none, defaultAction, cancelAction };
    enum class Action {
        dismiss,     // "Not now", "Leave it alone", "Close"
        setUp,       // "Set up"
        done,        // acknowledges the restart note, then dismisses
        acknowledge, // "OK": acknowledges the restart note
        reuse,       // "Reuse it"
        replace,     // "Replace it"
        tryAgain,    // repeats the operation that failed
    };
    struct Button {
        Action action;
        std::string title;
        Shortcut shortcut = Shortcut::none;
        bool operator==(const Button&) const = default;
    };

    Screen screen = Screen::busy;
    std::string busyText;
    // The first line (connected, conflict heading, failure heading); empty when none.
    std::string headline;
    // The mark before the headline ("✓ " connected, "⚠ " failed), its colour and weight.
    std::string headlineMark;
    ColourRole headlineColour = ColourRole::primary;
    bool headlineIsBold = false;
    // The sentence under it: the explanation, restart note or failure message.
    std::string body;
    // The restart note is shown (orange) instead of the connected sentence.
    bool bodyIsWarning = false;
    ColourRole bodyColour = ColourRole::secondary;
    // The other base URL (conflict) or the failure message, selectable.
    std::string selectableValue;
    bool showsValue = false;
    // The other base URL stands in monospace on the text background in a rounded box.
    bool valueIsBoxed = false;
    ColourRole valueColour = ColourRole::secondary;
    std::vector<std::string> bullets;
    // Buttons before the flexible space (the dismiss of a conflict), then after it.
    std::vector<Button> leadingButtons;
    std::vector<Button> trailingButtons;
    // The disconnect control stands at the start of the button row.
    bool showsDisconnect = false;

    bool operator==(const SetupFlowContent&) const = default;
};

class SetupFlowPresenter {
public:
    SetupFlowPresenter() = delete;

    static constexpr const char* checkingText = "Checking your Claude Code settings…";
    static constexpr const char* workingText = "Starting the proxy and waiting for it to answer…";
    static constexpr const char* restartNote =
        "Restart your Claude Code session — one that is already running keeps its old "
        "environment.";

    static SetupFlowContent present(const state::SetupModel::State& state, bool needsSessionRestart,
                                    bool canDismiss);

    // The button of `content` that answers `shortcut`, if one does.
    static const SetupFlowContent::Button* buttonFor(const SetupFlowContent& content,
                                                     SetupFlowContent::Shortcut shortcut);
};

} // namespace meterly::ui
