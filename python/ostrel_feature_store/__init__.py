"""A feature store for financial market data."""

from ._ostrel_feature_store import __version__

__all__ = ["__version__"]
