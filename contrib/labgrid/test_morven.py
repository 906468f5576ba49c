"""Writes the board through labgrid's MorvenDriver: pytest --lg-env ENVIRONMENT test_morven.py"""

import pytest

from labgrid.driver.exception import ExecutionError


def test_write(target):
    driver = target.get_driver("MorvenDriver")
    target.activate(driver)
    record = driver.load()
    assert record["outcome"] == "O.K."
    assert record["device"] == driver.url()


def test_refused_file(target, tmp_path):
    driver = target.get_driver("MorvenDriver")
    target.activate(driver)
    broken = tmp_path / "broken.hex"
    broken.write_text(":0100000000FE\n:00000001FF\n")
    with pytest.raises(ExecutionError, match=r"is refused: line 1 .*exit status 11"):
        driver.load(str(broken))
