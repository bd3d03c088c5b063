-- No Bluetooth (and so no D-Bus) in the test session.
bluez_monitor.enabled = false
