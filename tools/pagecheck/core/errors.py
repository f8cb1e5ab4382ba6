"""The errors that cross layers."""


class UsageError(Exception):
    """Bad arguments, or an argument that names nothing usable: said in one line, exit status 2."""


class NotPrinted(AssertionError):
    """A page that never reached the queue's output; message is the text of the message box the
    program showed instead, if any."""

    def __init__(self, reason, message=None):
        super().__init__(reason + (f': the program said "{message}"' if message else ''))
        self.reason = reason
        self.message = message
