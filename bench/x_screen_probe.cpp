#include "bench/x_screen_probe.h"

#include <xcb/xcb.h>

#include <cstdlib>

namespace {
// Frees a reply the library allocated.
template <typename Reply> std::unique_ptr<Reply, decltype(&std::free)> Owned(Reply* reply)
{
    return {reply, &std::free};
}

xcb_atom_t Atom(xcb_connection_t* connection, const std::string& name)
{
    auto reply = Owned(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(name.size()), name.c_str()),
        nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}
} // namespace

std::unique_ptr<XScreenProbe> XScreenProbe::Connect(const std::string& display)
{
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(display.c_str(), &screenNumber);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return nullptr;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i)
        xcb_screen_next(&screens);
    return std::unique_ptr<XScreenProbe>(new XScreenProbe(connection, screens.data->root));
}

XScreenProbe::~XScreenProbe() { xcb_disconnect(m_connection); }

std::uint32_t XScreenProbe::FindVisibleWindow(const std::string& name)
{
    auto tree = Owned(xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, m_root), nullptr));
    if (!tree)
        return 0;
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    const int count = xcb_query_tree_children_length(tree.get());
    // All questions first, then all answers: one round trip for the whole tree.
    std::vector<xcb_get_window_attributes_cookie_t> attributes;
    std::vector<xcb_get_property_cookie_t> names;
    for (int i = 0; i < count; ++i) {
        attributes.push_back(xcb_get_window_attributes(m_connection, children[i]));
        names.push_back(xcb_get_property(m_connection, 0, children[i], XCB_ATOM_WM_NAME,
                                         XCB_GET_PROPERTY_TYPE_ANY, 0, 256));
    }
    std::uint32_t found = 0;
    for (int i = 0; i < count; ++i) {
        auto attribute = Owned(xcb_get_window_attributes_reply(m_connection, attributes[i], nullptr));
        auto property = Owned(xcb_get_property_reply(m_connection, names[i], nullptr));
        if (!attribute || !property || attribute->map_state != XCB_MAP_STATE_VIEWABLE)
            continue;
        const auto* text = static_cast<const char*>(xcb_get_property_value(property.get()));
        if (std::string(text, xcb_get_property_value_length(property.get())) == name && found == 0)
            found = children[i];
    }
    return found;
}

std::vector<std::uint8_t> XScreenProbe::Pixels(std::uint32_t window)
{
    auto geometry =
        Owned(xcb_get_geometry_reply(m_connection, xcb_get_geometry(m_connection, window), nullptr));
    if (!geometry)
        return {};
    auto image = Owned(xcb_get_image_reply(m_connection,
                                           xcb_get_image(m_connection, XCB_IMAGE_FORMAT_Z_PIXMAP, window, 0,
                                                         0, geometry->width, geometry->height, ~0u),
                                           nullptr));
    if (!image)
        return {};
    const std::uint8_t* data = xcb_get_image_data(image.get());
    return std::vector<std::uint8_t>(data, data + xcb_get_image_data_length(image.get()));
}

void XScreenProbe::Close(std::uint32_t window)
{
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = Atom(m_connection, "WM_PROTOCOLS");
    event.data.data32[0] = Atom(m_connection, "WM_DELETE_WINDOW");
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(m_connection, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&event));
    xcb_flush(m_connection);
}
