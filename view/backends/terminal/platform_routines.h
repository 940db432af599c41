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
void init();  // colour-mode: the backend's start-up
void do_event_loop();  // no-wait? -> logic!
void exit_event_loop();
void on_change_facet();  // owner word value action new index part
void update_font();  // font flags
void update_para();  // face flags
void draw_image();  // image commands
void detach_image();  // image

}  // namespace zuv::tui::routines
