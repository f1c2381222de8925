// Grids that are APEX Interactive Grids: their column items live in the grid's visually
// hidden container until their cell is edited. These helpers find such a grid from its add
// button and make a cell editable before the cell's ordinary fill, as a user's click does.
#pragma once
#include "state.hpp"

namespace zv::vc {

// The Interactive Grid the add button belongs to: its region's static id, or None when the
// button is not in one. `handle` is what the add button's wait gave (None: nothing to ask,
// and then nothing is asked). The handle is disposed of.
Task<Ref> interactive_grid_of(PyObject* handle);

// Cell activation: the cell of `webSel`'s column item, in the row the grid `grid` is editing,
// made editable (the item moved from the hidden container into the cell). Nothing for an
// item that is not one of the grid's column items. A cell that cannot be activated is said
// in a warning line while debug is on (`owner` names the fill); the ordinary fill then
// follows as it would anyway.
Task<Ref> activate_cell(PyObject* page, PyObject* grid, PyObject* webSel, const char* owner);

}  // namespace zv::vc
