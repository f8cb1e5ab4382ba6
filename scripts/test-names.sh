# Names the tests and the fixture agree on.
QUEUE_SHORT=PTQUEUE
# Longer than the 31 characters a DEVMODE's device name keeps.
QUEUE_LONG=PRINT_TEST_QUEUE_WITH_A_NAME_OF_45_CHARACTERS
QUEUE_600=PTQUEUE600
# A resolution whose Letter page bitmap (about 2 GB) a 32-bit process cannot hold.
QUEUE_2400=PTQUEUE2400
# The longest name used as it is, and the shortest looked up among the printers; the longer one
# contains the shorter and is listed before it.
QUEUE_30=PT_A_NAME_OF_THIRTY_CHARACTERS
QUEUE_31=APT_A_NAME_OF_THIRTY_CHARACTERS
# A queue that refuses every job.
QUEUE_REJECTING=PTREJECT
PRINTTEST_DISPLAY=${PRINTTEST_DISPLAY:-:91}
