"""The printing stack under test and what drives it: libcups and the PPDs it reads, the printers a
check is asked for, driverless printers over IPP, the private scheduler and its queues, Wine and
the program under it, and a print job from the press of OK to what the queue received. Uses core,
readers and measure; never the report."""
