// email!: a mail address, a user part, "@" and a host part, written as it
// is. Storage and every series action are string!'s (datatypes/string.h);
// mold and the user/host path fields are its own.
#pragma once

#include <cstdint>

#include "datatypes/action_types.h"
#include "runtime/cell.h"

namespace zuv::email {

// An email from UTF-8 text in cell, or pushed when cell is nullptr.
cell_t* load_at(const uint8_t* utf8, int64_t count, cell_t* cell);
cell_t* load_in(const uint8_t* utf8, int64_t count, cell_t* block);
cell_t* push(const cell_t* value);

int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how);
cell_t* eval_path(cell_t* parent, cell_t* element, cell_t* value, cell_t* path, cell_t* gparent,
                  cell_t* p_item, int32_t index, bool case_, bool get, bool tail, bool evt);

void init();

}  // namespace zuv::email
