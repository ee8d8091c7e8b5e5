#pragma once

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace zqn::ui {

// The atom of name on connection, interned if it is not yet; XCB_ATOM_NONE when the server fails.
inline xcb_atom_t internAtom(xcb_connection_t* connection, const char* name)
{
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return atom;
}

} // namespace zqn::ui
