#pragma once

#include <gtk/gtk.h>

namespace muvra {

// The frame of a frameless window: a thin border of the window's own around its child, where
// the pointer shows a resize cursor and a press resizes the window. The cursor is the window's
// only while the pointer is on the border: its children, which set none of their own, inherit it.
void addResizeBorder(GtkWidget* window);

// Moves the window with the pointer while its first button is held, as a press on a title bar.
void beginMoveDrag(GtkWidget* window);

}  // namespace muvra
