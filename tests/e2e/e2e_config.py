"""Settings the runner gives the test modules."""

# Path of the varnek executable under test.
PROGRAM = None


def session(**options):
    from varnek_session import VarnekSession
    return VarnekSession(PROGRAM, **options)
