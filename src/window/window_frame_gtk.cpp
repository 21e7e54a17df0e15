#include "window/window_frame_gtk.h"

#include <optional>

namespace muvra {

namespace {

constexpr int kResizeBorder = 5;

// A place on the border: the edge it resizes and the cursor it shows.
struct ResizeGrip {
  GdkWindowEdge edge;
  const char* cursor;
};

// The grip of a width × height window under (x, y), if within the resize border.
std::optional<ResizeGrip> resizeGripAt(double x, double y, int width, int height) {
  const int column = x < kResizeBorder ? 0 : (x >= width - kResizeBorder ? 2 : 1);
  const int row = y < kResizeBorder ? 0 : (y >= height - kResizeBorder ? 2 : 1);
  constexpr ResizeGrip kGrips[3][3] = {
      {{GDK_WINDOW_EDGE_NORTH_WEST, "nw-resize"},
       {GDK_WINDOW_EDGE_NORTH, "n-resize"},
       {GDK_WINDOW_EDGE_NORTH_EAST, "ne-resize"}},
      {{GDK_WINDOW_EDGE_WEST, "w-resize"}, {}, {GDK_WINDOW_EDGE_EAST, "e-resize"}},
      {{GDK_WINDOW_EDGE_SOUTH_WEST, "sw-resize"},
       {GDK_WINDOW_EDGE_SOUTH, "s-resize"},
       {GDK_WINDOW_EDGE_SOUTH_EAST, "se-resize"}}};
  if (row == 1 && column == 1) {
    return std::nullopt;
  }
  return kGrips[row][column];
}

std::optional<ResizeGrip> gripUnder(GtkWidget* window, double x, double y) {
  return resizeGripAt(x, y, gtk_widget_get_allocated_width(window),
                      gtk_widget_get_allocated_height(window));
}

void showCursor(GdkWindow* surface, const char* name) {
  GdkCursor* cursor =
      name != nullptr ? gdk_cursor_new_from_name(gdk_window_get_display(surface), name) : nullptr;
  gdk_window_set_cursor(surface, cursor);
  if (cursor != nullptr) {
    g_object_unref(cursor);
  }
}

gboolean onMotion(GtkWidget* window, GdkEventMotion* motion) {
  GdkWindow* surface = gtk_widget_get_window(window);
  if (motion->window == surface) {
    const std::optional<ResizeGrip> grip = gripUnder(window, motion->x, motion->y);
    showCursor(surface, grip ? grip->cursor : nullptr);
  }
  return FALSE;
}

// Leaving the border for a child or for another window: the border's cursor goes with it.
gboolean onLeave(GtkWidget* window, GdkEventCrossing* crossing) {
  GdkWindow* surface = gtk_widget_get_window(window);
  if (crossing->window == surface) {
    showCursor(surface, nullptr);
  }
  return FALSE;
}

gboolean onPress(GtkWidget* window, GdkEventButton* press) {
  if (press->window != gtk_widget_get_window(window) || press->button != 1 ||
      press->type != GDK_BUTTON_PRESS) {
    return FALSE;
  }
  const std::optional<ResizeGrip> grip = gripUnder(window, press->x, press->y);
  if (!grip) {
    return FALSE;
  }
  gtk_window_begin_resize_drag(GTK_WINDOW(window), grip->edge, 1, static_cast<gint>(press->x_root),
                               static_cast<gint>(press->y_root), press->time);
  return TRUE;
}

}  // namespace

void addResizeBorder(GtkWidget* window) {
  gtk_container_set_border_width(GTK_CONTAINER(window), kResizeBorder);
  GtkCssProvider* style = gtk_css_provider_new();
  gtk_css_provider_load_from_data(style, "window { background-color: #0b090c; }", -1, nullptr);
  gtk_style_context_add_provider(gtk_widget_get_style_context(window), GTK_STYLE_PROVIDER(style),
                                 GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  g_object_unref(style);
  gtk_widget_add_events(window,
                        GDK_BUTTON_PRESS_MASK | GDK_POINTER_MOTION_MASK | GDK_LEAVE_NOTIFY_MASK);
  g_signal_connect(window, "motion-notify-event", G_CALLBACK(onMotion), nullptr);
  g_signal_connect(window, "leave-notify-event", G_CALLBACK(onLeave), nullptr);
  g_signal_connect(window, "button-press-event", G_CALLBACK(onPress), nullptr);
}

void beginMoveDrag(GtkWidget* window) {
  GdkWindow* surface = gtk_widget_get_window(window);
  GdkSeat* seat = gdk_display_get_default_seat(gdk_display_get_default());
  GdkDevice* pointer = seat != nullptr ? gdk_seat_get_pointer(seat) : nullptr;
  if (surface == nullptr || pointer == nullptr) {
    return;
  }
  int x = 0;
  int y = 0;
  gdk_device_get_position(pointer, nullptr, &x, &y);
  gdk_seat_ungrab(seat);
  gtk_window_begin_move_drag(GTK_WINDOW(window), 1, x, y, GDK_CURRENT_TIME);
}

}  // namespace muvra
