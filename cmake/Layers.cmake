# The layers of the control, bottom first. Each folder under src/ is one layer; a layer includes
# and links only itself and the layers named in its VANTREL_USES_<layer>, all of which lie below
# it, so calls go one way: up-calls pass through interfaces that the lower layer declares.
# src/CMakeLists.txt builds from this table and cmake/CheckLayers.cmake checks every include
# against it. tools/, tests/, bench/ and fuzz/ stand above every layer.
set(VANTREL_LAYERS diag platform config tls proxy catalogue tunnel citrix verify session control host)

set(VANTREL_USES_diag "")
set(VANTREL_USES_platform diag)
set(VANTREL_USES_config diag)
set(VANTREL_USES_tls diag platform)
set(VANTREL_USES_proxy diag platform)
set(VANTREL_USES_catalogue config diag platform)
set(VANTREL_USES_tunnel diag platform proxy tls)
set(VANTREL_USES_citrix catalogue config diag platform tunnel)
set(VANTREL_USES_verify diag platform)
set(VANTREL_USES_session catalogue citrix config diag platform tunnel verify)
set(VANTREL_USES_control catalogue config diag platform session)
set(VANTREL_USES_host config control diag platform session)

# Companion libraries: shared objects of their own beside the control, loaded by file name. Each
# may use the layers named in its VANTREL_USES_<name> (linked as object libraries) and companions
# listed before it. A layer never links a companion; VANTREL_INCLUDES_<layer> names the companions
# whose C interface header it may include to call the library through dlopen.
set(VANTREL_COMPANIONS ntlmlib proxylog jsproxy proxylib)
set(VANTREL_USES_ntlmlib "")
set(VANTREL_USES_proxylog diag platform)
set(VANTREL_USES_jsproxy diag)
set(VANTREL_USES_proxylib diag platform proxylog jsproxy)
set(VANTREL_INCLUDES_proxy jsproxy ntlmlib proxylib)
