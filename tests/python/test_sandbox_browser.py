"""The sandbox's web page in a real browser: a QR made through the client is paid with a click."""

from __future__ import annotations

import os
import shutil
from collections.abc import Iterator
from pathlib import Path
from typing import Any

import pytest

from corvane_bo.qr import Client, WebhookTarget, parse_webhook
from corvane_bo.qr.sandbox import RetryPolicy, SandboxBank, WebhookReceiver
from test_client_integration import _qr_operations_built

CHROMIUM, DRIVER = shutil.which("chromium"), shutil.which("chromedriver")
DESCRIPTION = '<b id="injected">Pedido</b> & "más"'

pytestmark = pytest.mark.skipif(not _qr_operations_built(), reason="the engine has no QR operations yet")


@pytest.fixture
def browser() -> Iterator[Any]:
    if CHROMIUM is None or DRIVER is None:
        if os.environ.get("CI"):
            pytest.fail("CI installs Debian's chromium and chromium-driver; they are missing")
        pytest.skip("Debian's chromium and chromium-driver are not installed")
    webdriver = pytest.importorskip("selenium.webdriver")
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for argument in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--disable-gpu",
                     "--window-size=1400,900"):
        options.add_argument(argument)
    driver = webdriver.Chrome(options=options, service=webdriver.ChromeService(executable_path=DRIVER))
    driver.set_page_load_timeout(30)
    try:
        yield driver
    finally:
        driver.quit()


def test_pay_from_the_page(browser: Any, tmp_path: Path) -> None:
    from selenium.common.exceptions import StaleElementReferenceException
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import WebDriverWait

    def wait(check: Any) -> None:  # the page reloads itself, so an element found may go stale
        WebDriverWait(browser, 15, ignored_exceptions=(StaleElementReferenceException,)).until(check)

    with SandboxBank(retry=RetryPolicy(attempts=2, backoff=0.1)) as bank, WebhookReceiver() as receiver:
        client = Client(bank.config(), bank.token(), timeout=10.0)
        client.generate("12.50", "4242", DESCRIPTION, establishment_id=1, establishment_name="Tienda",
                        expires_in=600, webhook=WebhookTarget(receiver.url, "X-Hook", "s3cret"))
        browser.get(bank.page_url)
        row = browser.find_element(By.ID, "qr-4242")
        image = row.find_element(By.CSS_SELECTOR, "img.qr")
        assert browser.execute_script("return arguments[0].complete && arguments[0].naturalWidth", image) > 100
        assert row.find_element(By.CLASS_NAME, "amount").text == "12.50"
        assert row.find_element(By.CLASS_NAME, "description").text == DESCRIPTION
        assert row.find_element(By.CLASS_NAME, "status").text == "PENDIENTE"
        assert not browser.find_elements(By.ID, "injected")
        browser.save_screenshot(str(tmp_path / "pending.png"))

        row.find_element(By.CSS_SELECTOR, "button.pay").click()

        def paid(driver: Any) -> bool:
            cells = driver.find_elements(By.CSS_SELECTOR, "#qr-4242 .status")
            return bool(cells) and cells[0].text == "PAGADO"

        wait(paid)
        (received,) = receiver.wait(1, timeout=10)
        note = parse_webhook(received.headers, received.body, "X-Hook", "s3cret")
        assert note.reference == "4242" and note.status.value == "paid"
        browser.get(bank.page_url)  # the log shows the delivery once it is recorded
        wait(
            lambda driver: [c.text for c in driver.find_elements(By.CSS_SELECTOR, "#deliveries .http-status")]
            == ["200"])
        browser.save_screenshot(str(tmp_path / "paid.png"))
        text = browser.find_element(By.TAG_NAME, "body").text
        assert "Traceback" not in text and DESCRIPTION in text and not browser.find_elements(By.TAG_NAME, "b")
        assert bank.status_of("4242") == "PAGADO" and client.verify("4242").paid
