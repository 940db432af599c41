// The terminal backend's entry points in `system/view/platform`: each takes
// its arguments from the routine frame and leaves its result there.
#pragma once

namespace zuv::tui::routines {

void make_view();  // face parent-handle -> handle!
void update_view();  // face or block of faces
void destroy_view();  // face empty?
void redraw();  // face
void refresh_window();  // window handle
void show_window();  // window handle
void get_screen_size();  // id -> pair!
void size_text();  // face text -> point2D! or none
void text_box_metrics();  // face argument kind
void set_colour_mode();  // mode
void draw_image();  // image commands

}  // namespace zuv::tui::routines
