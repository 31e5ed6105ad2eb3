// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Whether an installed disc-menu template can make a menu. The template list shows a
// broken one with a warning sign, and choosing it is refused with the reason.

#include <string>

namespace lumivox::ui {

// Entries a menu page may have: one per number key of the remote.
inline constexpr int kMaxEntriesPerPage = 9;

// Empty when the template at path can serve; otherwise why not, naming the file at
// fault: the template file cannot be read, has no menu entries or more than a remote has
// number keys, asks for a canvas larger than any menu page may be, or names a background,
// frame or page-button picture that cannot be read (a menu page without its background
// cannot be drawn at all, and a template missing its frame or buttons is a damaged
// installation).
std::string TemplateProblem(const std::string& path);

// Empty when the picture at path can serve as the menu's background (it decodes);
// otherwise the reason, naming the file.
std::string BackgroundProblem(const std::string& path);

} // namespace lumivox::ui
