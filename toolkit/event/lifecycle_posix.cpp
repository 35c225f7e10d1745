// Start and end of the event library where there is no window system: the
// queue's state and the bindings map, without a post window.
#include "toolkit/event/event.h"

void events_init()
{
    event_state_init();
}

// Nothing to destroy: the state and the map live until the main heap goes.
void events_end()
{
}
