#pragma once

namespace meterly::ui {

// A colour named by what it says, for presenters that stay free of Qt; the view looks it up in
// the current palette (Palette::colour).
enum class ColourRole { primary, secondary, green, orange };

} // namespace meterly::ui
