#include "ui/setup/SetupFlowPresenter.hpp"

namespace meterly::ui {

using Content = SetupFlowContent;
using Kind = state::SetupModel::State::Kind;

namespace {

// The marks and colours of a screen whose texts are set.
void markAndColour(Content& content) {
    const auto screen = content.screen;
    if (screen == Content::Screen::configured) {
        content.headlineMark = "✓ ";
        content.headlineColour = ColourRole::green;
    } else if (screen == Content::Screen::failed) {
        content.headlineMark = "⚠ ";
        content.headlineColour = ColourRole::orange;
    }
    content.headlineIsBold = screen == Content::Screen::conflict;
    if (screen == Content::Screen::notConfigured) {
        content.bodyColour = ColourRole::primary;
    } else {
        content.bodyColour = content.bodyIsWarning ? ColourRole::orange : ColourRole::secondary;
    }
    content.showsValue = !content.selectableValue.empty() || screen == Content::Screen::conflict ||
                         screen == Content::Screen::failed;
    content.valueIsBoxed = screen == Content::Screen::conflict;
    content.valueColour = content.valueIsBoxed ? ColourRole::primary : ColourRole::secondary;
}

} // namespace

Content SetupFlowPresenter::present(const state::SetupModel::State& state, bool needsSessionRestart,
                                    bool canDismiss) {
    Content content;
    switch (state.kind) {
    case Kind::checking:
        content.screen = Content::Screen::busy;
        content.busyText = checkingText;
        break;
    case Kind::working:
        content.screen = Content::Screen::busy;
        content.busyText = workingText;
        break;
    case Kind::notConfigured:
        content.screen = Content::Screen::notConfigured;
        content.body = "Meterly reads your Claude Code usage by sitting between Claude Code and "
                       "Anthropic. To do that it needs to point Claude Code at itself.";
        content.bullets = {
            "Adds ANTHROPIC_BASE_URL to ~/.claude/settings.json, pointing at 127.0.0.1:8787 (or "
            "the next free port if that one is taken).",
            "Copies the current file to ~/.claude/settings.json.meterly-backup first. Nothing "
            "else in it is touched — including any auth token.",
            "Starts a background agent that runs the proxy. Nothing is written until the proxy "
            "answers.",
        };
        if (canDismiss) {
            content.trailingButtons.push_back(
                {Content::Action::dismiss, "Not now", Content::Shortcut::cancelAction});
        }
        content.trailingButtons.push_back(
            {Content::Action::setUp, "Set up", Content::Shortcut::defaultAction});
        break;
    case Kind::configured:
        content.screen = Content::Screen::configured;
        content.headline = "Connected on 127.0.0.1:" + std::to_string(state.port);
        content.bodyIsWarning = needsSessionRestart;
        content.body = needsSessionRestart ? restartNote
                                           : "Claude Code is pointed at Meterly. Usage appears in "
                                             "the menu bar as you work.";
        content.showsDisconnect = true;
        if (canDismiss) {
            content.trailingButtons.push_back(
                {Content::Action::done, "Done", Content::Shortcut::defaultAction});
        } else if (needsSessionRestart) {
            content.trailingButtons.push_back({Content::Action::acknowledge, "OK"});
        }
        break;
    case Kind::conflict:
        content.screen = Content::Screen::conflict;
        content.headline = "Claude Code is already pointed somewhere else";
        content.selectableValue = state.existing;
        content.body =
            state.canAdopt
                ? "That is a local address and Meterly has a backup of your settings, so this "
                  "looks like an earlier Meterly install. You can reuse it or replace it."
                : "Meterly did not set that. Replacing it will send Claude Code's traffic through "
                  "Meterly instead — your current value is kept in "
                  "~/.claude/settings.json.meterly-backup.";
        if (canDismiss) {
            content.leadingButtons.push_back(
                {Content::Action::dismiss, "Leave it alone", Content::Shortcut::cancelAction});
        }
        if (state.canAdopt) {
            content.trailingButtons.push_back({Content::Action::reuse, "Reuse it"});
        }
        content.trailingButtons.push_back(
            {Content::Action::replace, "Replace it",
             state.canAdopt ? Content::Shortcut::none : Content::Shortcut::defaultAction});
        break;
    case Kind::failed:
        content.screen = Content::Screen::failed;
        content.headline = "Setup did not finish";
        content.selectableValue = state.message;
        if (canDismiss) {
            content.trailingButtons.push_back(
                {Content::Action::dismiss, "Close", Content::Shortcut::cancelAction});
        }
        content.trailingButtons.push_back(
            {Content::Action::tryAgain, "Try again", Content::Shortcut::defaultAction});
        break;
    }
    markAndColour(content);
    return content;
}

const Content::Button* SetupFlowPresenter::buttonFor(const Content& content,
                                                     Content::Shortcut shortcut) {
    for (const auto* row : {&content.leadingButtons, &content.trailingButtons}) {
        for (const auto& button : *row) {
            if (button.shortcut == shortcut) {
                return &button;
            }
        }
    }
    return nullptr;
}

} // namespace meterly::ui
