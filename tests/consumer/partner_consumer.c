/* Uses the installed partner library from C the way another program would:
 * checks its version, then opens a partner where no service runs (the
 * caller points KORVANE_RUNTIME_DIR at an empty folder) and expects
 * KORVANE_NO_SERVICE with a reason, and KORVANE_BAD_ARGUMENT for a bad
 * timeout and a NULL handle. */
#include "korvane_partner.h"

#include <stdio.h>
#include <string.h>

static int Check(int ok, const char* what)
{
    if (!ok)
        fprintf(stderr, "partner_consumer: FAILED: %s\n", what);
    return ok;
}

int main(void)
{
    korvane_partner* partner = (korvane_partner*)&partner; /* must be cleared */
    int ok = 1;
    const int status = korvane_partner_open(NULL, NULL, 1000, &partner);
    ok &= Check(strcmp(korvane_partner_version(), EXPECTED_VERSION) == 0,
                "korvane_partner_version() matches the package version");
    ok &= Check(status == KORVANE_NO_SERVICE, "no service: KORVANE_NO_SERVICE");
    ok &= Check(partner == NULL, "no handle after a failed open");
    ok &= Check(strlen(korvane_partner_last_error(NULL)) > 0, "the reason is given");
    printf("partner_consumer: open without a service: %d, %s\n", status,
           korvane_partner_last_error(NULL));
    ok &= Check(korvane_partner_open(NULL, NULL, 0, &partner) == KORVANE_BAD_ARGUMENT,
                "timeout 0: KORVANE_BAD_ARGUMENT");
    ok &= Check(korvane_partner_send_keepalive(NULL, NULL, NULL) == KORVANE_BAD_ARGUMENT,
                "NULL handle: KORVANE_BAD_ARGUMENT");
    ok &= Check(korvane_partner_close(NULL) == 0, "closing NULL");
    return ok ? 0 : 1;
}
