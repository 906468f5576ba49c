"""labgrid driver that writes a board's flash through morven-cli.

The board's serial port is a NetworkSerialPort resource (an exporter's ser2net); by default the
driver names it to morven-cli as rfc2217://HOST:PORT, and every exchange of the write crosses the
network. Where the environment knows the device's path on the exporter (``ssh_device``), the
write runs on the exporter instead, by its own morven-cli reached through ssh
(ssh://[USER@]HOST/DEVICE): only the image crosses the network, once. Use it for an exporter more
than a LAN away; it needs morven-cli installed there and an ssh login (MORVEN_SSH_COMMAND, if set,
is passed on). Load the driver with ``imports: [morvendriver.py]`` in the environment file.
"""

import json
import logging
import subprocess

import attr

from labgrid.driver.common import Driver
from labgrid.driver.exception import ExecutionError
from labgrid.factory import target_factory
from labgrid.protocol import BootstrapProtocol
from labgrid.step import step


@target_factory.reg_driver
@attr.s(eq=False)
class MorvenDriver(Driver, BootstrapProtocol):
    """Writes firmware (S-record, Intel HEX or ELF) into the board's flash.

    Args:
        image (str): key in the environment's ``images:``, the firmware written by default
        kernel (str): the kernel file for morven-cli's --kernel; default: where morven-cli looks
        morven_cli (str): the morven-cli program
        log (str): morven-cli's --log FILE; default: its own write log
        ssh_device (str): the board's device path on the exporter; when set, the write runs there
            through ssh instead of over RFC 2217 (ser2net must then leave the device free)
        ssh_user (str): the login on the exporter; default: ssh's own choice
    """

    bindings = {"port": "NetworkSerialPort"}
    image = attr.ib(default=None, validator=attr.validators.optional(attr.validators.instance_of(str)))
    kernel = attr.ib(default=None, validator=attr.validators.optional(attr.validators.instance_of(str)))
    morven_cli = attr.ib(default="morven-cli", validator=attr.validators.instance_of(str))
    log = attr.ib(default=None, validator=attr.validators.optional(attr.validators.instance_of(str)))
    ssh_device = attr.ib(default=None, validator=attr.validators.optional(attr.validators.instance_of(str)))
    ssh_user = attr.ib(default=None, validator=attr.validators.optional(attr.validators.instance_of(str)))

    def __attrs_post_init__(self):
        super().__attrs_post_init__()
        self.logger = logging.getLogger(f"{self}:{self.target}")
        self.record = None

    def url(self):
        host = self.port.host
        if ":" in host:  # IPv6 goes in brackets
            host = f"[{host}]"
        if self.ssh_device:
            user = f"{self.ssh_user}@" if self.ssh_user else ""
            return f"ssh://{user}{host}{self.ssh_device}"
        return f"rfc2217://{host}:{self.port.port}"

    @Driver.check_active
    @step(args=["filename"], result=True)
    def load(self, filename=None):
        """Writes filename (default: the driver's image) and returns the write's record.

        Raises ExecutionError when the write did not end "O.K.", with morven-cli's outcome text
        and exit status; the record is then in self.record.
        """
        if filename is None:
            if self.image is None:
                raise ExecutionError("no firmware given and no image configured")
            filename = self.target.env.config.get_image_path(self.image)
        command = [self.morven_cli, "--json", "--quiet", "--port", self.url()]
        if self.kernel:
            command += ["--kernel", self.target.env.config.resolve_path(self.kernel)]
        if self.log:
            command += ["--log", self.log]
        command.append(filename)
        self.logger.debug("running %s", " ".join(command))
        process = subprocess.run(command, capture_output=True, text=True, check=False)
        lines = [line for line in process.stdout.splitlines() if line.strip()]
        self.record = json.loads(lines[-1]) if lines else None
        if process.returncode != 0 or self.record is None or self.record["status"] != 0:
            outcome = self.record["outcome"] if self.record else process.stderr.strip()
            raise ExecutionError(
                f"morven-cli: {outcome} (exit status {process.returncode})",
                stdout=process.stdout.splitlines(),
                stderr=process.stderr.splitlines(),
            )
        self.logger.info("wrote %s: %s, N = %d, SHA-256 %s", filename, self.record["outcome"],
                         self.record["n"], self.record["sha256"])
        return self.record
