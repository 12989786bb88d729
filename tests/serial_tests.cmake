# Tests that measure the whole process (its resident memory) run alone: another test
# process loading the machine changes how threads interleave their allocations, and so
# how much of the freed heap can be handed back.
set_tests_properties(MemoryAfterLoad.EndedSessionsGiveTheirMemoryBack PROPERTIES RUN_SERIAL TRUE)
