from importlib.metadata import version


def test_distribution_version():
    assert version("quorvelin-convert") == "0.1.0"
