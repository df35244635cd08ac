import ostrel_feature_store


def test_version_attribute():
    assert ostrel_feature_store.__version__ == "0.1.0"
