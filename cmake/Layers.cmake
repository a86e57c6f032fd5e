# The layers of the control, bottom first. Each folder under src/ is one layer; a layer includes
# and links only itself and the layers named in its VANTREL_USES_<layer>, all of which lie below
# it, so calls go one way: up-calls pass through interfaces that the lower layer declares.
# src/CMakeLists.txt builds from this table and cmake/CheckLayers.cmake checks every include
# against it. tools/, tests/, bench/ and fuzz/ stand above every layer.
set(VANTREL_LAYERS diag platform config tls proxy catalogue tunnel session control host)

set(VANTREL_USES_diag "")
set(VANTREL_USES_platform diag)
set(VANTREL_USES_config diag)
set(VANTREL_USES_tls diag platform)
set(VANTREL_USES_proxy diag platform)
set(VANTREL_USES_catalogue config diag platform)
set(VANTREL_USES_tunnel diag platform proxy tls)
set(VANTREL_USES_session catalogue config diag platform tunnel)
set(VANTREL_USES_control catalogue config diag platform session)
set(VANTREL_USES_host config control diag platform session)

# Companion libraries: shared libraries of their own beside the control (src/<name>/ builds
# them), loaded by file name at run time. Each uses only the layers named here; no layer
# includes a companion's headers, the control binds its C entry points instead.
set(VANTREL_COMPANIONS ntlmlib)
set(VANTREL_USES_ntlmlib "")
