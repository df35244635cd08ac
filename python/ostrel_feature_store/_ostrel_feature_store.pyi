"""The native module (`ostrel_feature_store._ostrel_feature_store`)."""

from typing import final

__version__: str

@final
class FeatureStore:
    """A feature store driven by JSON commands.

    `unsendable`: the store holds a streaming universe of stateful indicator
    evaluators, so a handle is bound to the thread that created it.
    """

    def __new__(cls, spec_json: str) -> FeatureStore: ...
    def command(self, cmd_json: str) -> str:
        """Apply a command JSON and return the resulting response JSON."""
    @staticmethod
    def version() -> str:
        """The library version."""
