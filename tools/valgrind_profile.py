"""pytest plugin for runs under valgrind: Hypothesis gets no deadline and no speed checks,
since everything runs tens of times slower. Loaded by tools/valgrind.sh with -p."""

from hypothesis import HealthCheck, settings

settings.register_profile("valgrind", deadline=None, suppress_health_check=list(HealthCheck))
settings.load_profile("valgrind")
