"""A feature store for financial market data, driven by JSON commands."""

from ._ostrel_feature_store import FeatureStore, __version__

__all__ = ["FeatureStore", "__version__"]
