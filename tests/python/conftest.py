import os
import pathlib

import pytest

REPO = pathlib.Path(__file__).resolve().parents[2]
# The shared golden data sits beside the checkout; tests that need it skip without it.
SHARED = pathlib.Path(os.environ.get("ORVEL_SHARED_DIR", REPO.parent / "shared"))


@pytest.fixture(scope="session")
def shared_dir():
    if not SHARED.is_dir():
        pytest.skip(f"shared data not found at {SHARED}")
    return SHARED
