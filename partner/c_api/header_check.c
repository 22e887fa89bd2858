/* korvane_partner.h compiles as C on its own, with every warning. */
#include "korvane_partner.h"

static void OnEvent(void* context, const korvane_event* event)
{
    (void)context;
    (void)event;
}

int korvane_partner_header_check(void);

int korvane_partner_header_check(void)
{
    korvane_event_fn callback = OnEvent;
    korvane_partner* partner = NULL;
    return callback != NULL && partner == NULL ? KORVANE_EVENT_KEEPALIVE_ECHO : KORVANE_IO_ERROR;
}
