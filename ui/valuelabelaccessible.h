#pragma once

class QLabel;

// A value label named after its title (the Status tab's "VPN Address", …):
// Qt's own label interface reads the name only, so the value itself never
// reached a screen reader. Marked labels read their title as the name and
// their current text as the description.
namespace ValueLabelAccessible {
void mark(QLabel *value);
}
