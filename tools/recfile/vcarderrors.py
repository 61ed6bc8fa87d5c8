"""What stops the vCard reader: a refusal or a note about a line left out, and a value that does not decode."""


class CardError(Exception):
    """A refusal (or a warning about a line left out) and where: the line,
    the card (its index in the file) with the properties that name it, and
    the property."""

    def __init__(self, line, message, card=None, namingProps=(), prop=""):
        super().__init__(message)
        self.line = line
        self.card = card
        self.namingProps = list(namingProps)
        self.prop = prop


class UnreadableValue(Exception):
    pass
